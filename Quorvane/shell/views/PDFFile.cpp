#include "PDFFile.h"

#include <QFileDialog>
#include <QSaveFile>

const QStringList& PDFFile::readableContentTypes() {
    static const QStringList types{"application/pdf"};
    return types;
}

std::optional<QString> PDFFile::write(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(pdfData) != pdfData.size())
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

void PDFFile::exportWithSaveDialog(QWidget* parent, const QString& defaultFileName,
                                   std::function<void(ExportResult)> completion) const {
    auto* dialog = new QFileDialog(parent);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setMimeTypeFilters(readableContentTypes());
    dialog->setDefaultSuffix("pdf");
    dialog->selectFile(defaultFileName + ".pdf");
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The bytes are copied into the dialog's handler: the caller may drop its document meanwhile.
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, file = *this, completion = std::move(completion)](int result) {
                         ExportResult outcome{ExportResult::Outcome::cancelled, {}, {}};
                         const QStringList chosen = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !chosen.isEmpty()) {
                             outcome.path = chosen.first();
                             auto error = file.write(outcome.path);
                             outcome.outcome =
                                 error ? ExportResult::Outcome::failed : ExportResult::Outcome::saved;
                             outcome.error = error.value_or(QString());
                         }
                         if (completion)
                             completion(outcome);
                     });
    dialog->open();
}
