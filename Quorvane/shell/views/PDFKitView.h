#pragma once
// A PDF document shown page after page in one continuous vertical scroll, scaled to the view's width, on a
// clear background. The view shows the document it was made with; without one it is an empty, transparent
// view. It takes the keyboard focus when shown, so the pages scroll with the arrow, page, Home and End keys
// at once.
#include <QByteArray>
#include <QWidget>
#include <memory>

class QPdfDocument;
class QPdfView;

class PDFKitView : public QWidget {
  public:
    explicit PDFKitView(std::shared_ptr<QPdfDocument> document, QWidget* parent = nullptr);

    // The document read from the bytes, or none when they are not a readable PDF.
    static std::shared_ptr<QPdfDocument> documentFromData(const QByteArray& data);

    const std::shared_ptr<QPdfDocument>& document() const { return document_; }
    QPdfView* pdfView() const { return pdfView_; }

  protected:
    void showEvent(QShowEvent* event) override;
    // Home and End go to the first and last page (the scroll area knows only the arrow and page keys).
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::shared_ptr<QPdfDocument> document_;
    QPdfView* pdfView_;
};
