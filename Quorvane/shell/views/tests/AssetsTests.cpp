// The app's images and colour assets: every image the screens name is built in and draws, symbols take
// their tint, and the colour assets keep their texts readable in light and dark palettes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>

#include "Quorvane/shell/views/Assets.h"
#include "Quorvane/testing/ViewTestSupport.h"

namespace {

// The share of the image's pixels that were drawn, and whether any drawn pixel has the colour.
struct Drawn {
    double share = 0;
    bool hasColour = false;
};

Drawn draw(const ViewImage& image, const QColor& tint, SymbolWeight weight = SymbolWeight::regular) {
    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        drawImage(painter, QRectF(0, 0, 48, 48), image, tint, weight);
    }
    Drawn drawn;
    int count = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const QColor pixel = canvas.pixelColor(x, y);
            if (pixel.alpha() == 0)
                continue;
            ++count;
            if (pixel.alpha() == 255 && pixel.rgb() == tint.rgb())
                drawn.hasColour = true;
        }
    drawn.share = static_cast<double>(count) / (canvas.width() * canvas.height());
    return drawn;
}

TEST(AssetsTest, EveryNamedImageIsBuiltInAndDraws) {
    for (const char* name : {"eID", "Pindle", "CivaroLogo", "Calendar"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(QFile::exists(QString(":/images/%1.svg").arg(name)));
        EXPECT_GT(draw(ViewImage::asset(name), Qt::red).share, 0.2);
    }
    for (const char* name : {"person", "gearshape", "checkmark", "checkmark.circle.fill", "questionmark",
                             "exclamationmark.shield"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(QFile::exists(QString(":/images/%1.svg").arg(name)));
        const QColor tint(0x12, 0x80, 0x6E);
        const Drawn regular = draw(ViewImage::symbol(name), tint);
        EXPECT_GT(regular.share, 0.03);
        EXPECT_TRUE(regular.hasColour) << "a symbol is drawn in its tint";
    }
    // A lighter weight draws thinner lines.
    EXPECT_LT(draw(ViewImage::symbol("gearshape"), Qt::black, SymbolWeight::ultraLight).share,
              draw(ViewImage::symbol("gearshape"), Qt::black, SymbolWeight::regular).share);
    EXPECT_EQ(draw(ViewImage::asset("NoSuchImage"), Qt::red).share, 0) << "a missing image draws nothing";
}

TEST(AssetsTest, ColourAssetsKeepTextReadableInLightAndDark) {
    for (const QPalette& palette : {QApplication::palette(), testsupport::darkPalette()}) {
        SCOPED_TRACE(isDarkPalette(palette) ? "dark" : "light");
        const QColor text = palette.color(QPalette::Text);
        // Icons and titles in the text colour on the button asset; a bullet's text on a disc in the text
        // colour.
        EXPECT_GE(contrastRatio(colorAsset("WalletButtonBackground", palette), text), 4.5);
        EXPECT_GE(contrastRatio(colorAsset("DynamicWhite", palette), palette.color(QPalette::WindowText)),
                  4.5);
        // Red notes on the text background and on the button asset.
        for (const QColor& background : {palette.color(QPalette::Base), palette.color(QPalette::Window),
                                         colorAsset("WalletButtonBackground", palette)})
            EXPECT_GE(contrastRatio(colorAsset("SystemRed", palette), background), 4.5)
                << background.name().toStdString();
        // The accent fill of the main buttons under their text.
        const QColor buttonText = palette.color(QPalette::HighlightedText);
        EXPECT_GE(
            contrastRatio(readableBackground(palette.color(QPalette::Highlight), buttonText), buttonText),
            4.5);
    }
    EXPECT_TRUE(isDarkPalette(testsupport::darkPalette()));
    EXPECT_FALSE(isDarkPalette(QApplication::palette()));
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::black, Qt::white), 21.0);
}

}  // namespace
