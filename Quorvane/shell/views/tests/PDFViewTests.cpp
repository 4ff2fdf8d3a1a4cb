// The PDF views: reading a document from bytes, paging through it from the keyboard, and exporting bytes
// exactly through the save dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QScrollBar>
#include <QTest>

#include "Quorvane/shell/views/PDFFile.h"
#include "Quorvane/shell/views/PDFKitView.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "platform/testing/TestEnvironment.h"

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST(PDFKitViewTest, ADocumentFromReadableBytesOnlyAndItsPagesFromTheKeyboard) {
    for (const QByteArray& unreadable :
         {QByteArray(), QByteArray("%PDF-1.4 truncated"), QByteArray(4096, '\xff')})
        EXPECT_FALSE(PDFKitView::documentFromData(unreadable));

    auto document = PDFKitView::documentFromData(testsupport::makeSamplePDF(3));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->pageCount(), 3);

    PDFKitView view(document);
    view.resize(600, 400);
    view.show();
    QApplication::setActiveWindow(&view);
    QApplication::processEvents();
    QPdfView* pdf = view.pdfView();
    EXPECT_EQ(pdf->pageMode(), QPdfView::PageMode::MultiPage);
    EXPECT_EQ(pdf->zoomMode(), QPdfView::ZoomMode::FitToWidth);
    EXPECT_TRUE(pdf->hasFocus()) << "the pages scroll from the keyboard at once";

    auto* scroll = pdf->verticalScrollBar();
    EXPECT_EQ(scroll->value(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
    EXPECT_GT(scroll->value(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_TRUE(QTest::qWaitFor([&] { return pdf->pageNavigator()->currentPage() == 2; }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    EXPECT_EQ(scroll->value(), 0);

    // Without a document the view is empty.
    PDFKitView empty(nullptr);
    EXPECT_EQ(empty.pdfView()->document(), nullptr);
}

TEST(PDFFileTest, WritesExactlyTheBytesItHolds) {
    const auto folder = QString::fromStdString(testsupport::makeTempDir("export").string());
    QByteArray bytes("not a PDF at all\0\r\n\xff", 20);
    PDFFile file{bytes};
    EXPECT_FALSE(file.write(folder + "/any.pdf"));
    EXPECT_EQ(readAll(folder + "/any.pdf"), bytes);
    EXPECT_FALSE(PDFFile{}.write(folder + "/empty.pdf"));
    EXPECT_EQ(readAll(folder + "/empty.pdf"), QByteArray());
    // An earlier file is replaced whole.
    EXPECT_FALSE(PDFFile{QByteArray("short")}.write(folder + "/any.pdf"));
    EXPECT_EQ(readAll(folder + "/any.pdf"), "short");

    auto error = file.write(folder + "/missing-folder/any.pdf");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->isEmpty());
    EXPECT_EQ(PDFFile::readableContentTypes(), QStringList{"application/pdf"});
}

TEST(PDFFileTest, TheSaveDialogProposesTheNameAndReportsWhatBecameOfTheExport) {
    const auto folder = QString::fromStdString(testsupport::makeTempDir("export").string());
    const QByteArray bytes = testsupport::makeSamplePDF(1);
    QWidget window;
    window.resize(800, 550);
    window.show();

    for (bool save : {true, false}) {
        SCOPED_TRACE(save ? "saved" : "cancelled");
        std::vector<PDFFile::ExportResult> results;
        PDFFile{bytes}.exportWithSaveDialog(&window, "Signed Agreement",
                                            [&](PDFFile::ExportResult result) { results.push_back(result); });
        auto* dialog = window.findChild<QFileDialog*>();
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(results.empty()) << "the call returns at once";
        ASSERT_FALSE(dialog->selectedFiles().isEmpty());
        EXPECT_TRUE(dialog->selectedFiles().first().endsWith("/Signed Agreement.pdf"));
        if (save) {
            // As a user would: choose the folder, keep the proposed name, press Return.
            dialog->setDirectory(folder);
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_TRUE(name);
            EXPECT_EQ(name->text(), "Signed Agreement.pdf");
            QTest::keyClick(name, Qt::Key_Return);
        } else {
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }));
        ASSERT_EQ(results.size(), 1u);
        if (save) {
            EXPECT_EQ(results[0].outcome, PDFFile::ExportResult::Outcome::saved);
            EXPECT_EQ(results[0].path, folder + "/Signed Agreement.pdf");
            EXPECT_EQ(readAll(results[0].path), bytes);
        } else {
            EXPECT_EQ(results[0].outcome, PDFFile::ExportResult::Outcome::cancelled);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.findChild<QFileDialog*>(); }))
            << "the dialog goes away";
    }
}

}  // namespace
