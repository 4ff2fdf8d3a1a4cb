#include "UserDefaults.h"

#include <QDateTime>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <mutex>

namespace platform {

namespace {

std::mutex standardMutex;
std::optional<std::filesystem::path> standardFile;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A QSettings made per operation: making one re-reads the file when it changed on disk, which keeps every
// read fresh without a cache of our own.
class Access {
  public:
    explicit Access(const std::filesystem::path& file)
        : settings_(QString::fromStdString(file.string()), QSettings::IniFormat) {}

    QSettings& operator*() { return settings_; }
    QSettings* operator->() { return &settings_; }

    void commit(const std::filesystem::path& file) {
        settings_.sync();
        if (settings_.status() != QSettings::NoError)
            qWarning("UserDefaults: could not write %s", file.string().c_str());
    }

  private:
    QSettings settings_;
};

void ensureFolder(const std::filesystem::path& file) {
    std::error_code ignored;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

UserDefaults UserDefaults::standard() {
    std::lock_guard lock(standardMutex);
    if (!standardFile) {
        auto config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
        standardFile = std::filesystem::path(config) / "quorvane" / "defaults.ini";
    }
    return UserDefaults(*standardFile);
}

void UserDefaults::setStandardFile(std::filesystem::path file) {
    std::lock_guard lock(standardMutex);
    standardFile = std::move(file);
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    Access access(file_);
    QVariant value = access->value(toQString(key));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString().toStdString();
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    Access access(file_);
    QVariant value = access->value(toQString(key));
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = value.toString();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    Access access(file_);
    QVariant value = access->value(toQString(key));
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        return value.toLongLong();
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    qlonglong number = value.toString().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<Date> UserDefaults::date(std::string_view key) const {
    Access access(file_);
    QVariant value = access->value(toQString(key));
    if (value.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    QDateTime dateTime = value.toDateTime();
    if (!dateTime.isValid())
        return std::nullopt;
    return Date(std::chrono::milliseconds(dateTime.toMSecsSinceEpoch()));
}

bool UserDefaults::contains(std::string_view key) const {
    Access access(file_);
    return access->contains(toQString(key));
}

void UserDefaults::setString(std::string_view key, std::string_view value) {
    ensureFolder(file_);
    Access access(file_);
    access->setValue(toQString(key), toQString(value));
    access.commit(file_);
}

void UserDefaults::setBoolean(std::string_view key, bool value) {
    ensureFolder(file_);
    Access access(file_);
    access->setValue(toQString(key), value);
    access.commit(file_);
}

void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
    ensureFolder(file_);
    Access access(file_);
    access->setValue(toQString(key), static_cast<qlonglong>(value));
    access.commit(file_);
}

void UserDefaults::setDate(std::string_view key, Date value) {
    ensureFolder(file_);
    auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(value.time_since_epoch()).count();
    Access access(file_);
    access->setValue(toQString(key), QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC));
    access.commit(file_);
}

void UserDefaults::remove(std::string_view key) {
    Access access(file_);
    if (!access->contains(toQString(key)))
        return;
    access->remove(toQString(key));
    access.commit(file_);
}

void UserDefaults::clear() {
    Access access(file_);
    if (access->allKeys().isEmpty())
        return;
    access->clear();
    access.commit(file_);
}

}  // namespace platform
