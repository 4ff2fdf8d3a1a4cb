#include "platform/qt/Localizable.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTranslator>

namespace platform {

std::string localized(std::string_view key, std::initializer_list<LocalizedArgument> arguments) {
    const std::string source(key);
    std::string text = QCoreApplication::translate("Localizable", source.c_str()).toStdString();
    // Values are inserted left to right; a value never counts as a placeholder itself.
    std::size_t from = 0;
    for (const auto& argument : arguments) {
        auto object = text.find("%@", from);
        auto integer = text.find("%lld", from);
        auto at = std::min(object, integer);
        if (at == std::string::npos)
            break;
        text.replace(at, at == object ? 2 : 4, argument.text());
        from = at + argument.text().size();
    }
    return text;
}

void installTranslations() {
    QStringList languages;
    for (const QString& language : QLocale().uiLanguages()) {
        QString code = language.section('-', 0, 0).toLower();
        if (!languages.contains(code))
            languages.append(code);
    }
    languages.removeAll("en");
    languages.append("en");
    // The first translator installed is asked last: install from the least preferred.
    for (auto it = languages.crbegin(); it != languages.crend(); ++it) {
        QString path = ":/i18n/Localizable_" + *it + ".qm";
        if (!QFile::exists(path))
            continue;
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(path))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}

}  // namespace platform
