#pragma once
// A PDF document's bytes as the save dialog exports them: written exactly as held, whatever they are (no PDF
// check), through a temporary file that replaces the target only once it is complete.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

struct PDFFile {
    QByteArray pdfData;

    // The one content type it reads and writes.
    static const QStringList& readableContentTypes();

    // Writes the bytes to the path; the error text when that failed.
    std::optional<QString> write(const QString& path) const;

    // What became of an export: saved (at the path), cancelled, or failed (with the reason).
    struct ExportResult {
        enum class Outcome { saved, cancelled, failed };
        Outcome outcome;
        QString path;
        QString error;
    };
    // Offers the bytes in a window-modal save dialog over the parent's window, proposing the file name (with
    // ".pdf"), and calls the completion once when the dialog has gone, whatever the user chose. Returns at
    // once.
    void exportWithSaveDialog(QWidget* parent, const QString& defaultFileName,
                              std::function<void(ExportResult)> completion) const;
};
