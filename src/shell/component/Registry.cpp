#include "Registry.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tavik::registry {
namespace {

fs::path fromQString(const QString& text) {
    return fs::path(text.toStdString());
}

fs::path idFile(std::string_view folder, const Guid& id) {
    return root() / folder / (toString(id) + ".ini");
}

// Beside the final file, so the rename stays within one file system.
fs::path temporaryFor(const fs::path& file) {
    fs::path temporary = file;
    temporary += ".tmp-" + std::to_string(::getpid());
    return temporary;
}

bool writeOne(const fs::path& file, const Entry& entry) {
    std::error_code error;
    fs::remove(file, error);
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    settings.clear();
    for (const auto& [key, value] : entry)
        settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings.sync();
    return settings.status() == QSettings::NoError && fs::is_regular_file(file, error);
}

} // namespace

fs::path root() {
    const char* configured = std::getenv(EnvironmentVariable);
    if (configured && *configured)
        return fs::absolute(configured).lexically_normal();
    return fromQString(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) /
           "tavik" / "registry";
}

fs::path classFile(const Guid& clsid) {
    return idFile("CLSID", clsid);
}
fs::path typeLibFile(const Guid& libid) {
    return idFile("TypeLib", libid);
}
fs::path interfaceFile(const Guid& iid) {
    return idFile("Interface", iid);
}

fs::path progIdFile(std::string_view progId) {
    if (!isValidProgId(progId))
        return {};
    return root() / "ProgID" / (std::string(progId) + ".ini");
}

bool isValidProgId(std::string_view progId) {
    if (progId.empty() || progId.size() > 39)
        return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!letter(progId.front()))
        return false;
    for (char c : progId)
        if (!letter(c) && !digit(c) && c != '_' && c != '.')
            return false;
    return true;
}

std::optional<Entry> readEntry(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return std::nullopt;
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    Entry entry;
    for (const QString& key : settings.allKeys()) {
        const QVariant value = settings.value(key);
        // An unquoted comma makes the INI reader split a value; join it back.
        const QString text = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString();
        entry[key.toStdString()] = text.toStdString();
    }
    return entry;
}

bool writeEntries(const std::vector<std::pair<fs::path, Entry>>& entries) {
    std::error_code error;
    std::vector<fs::path> written;
    bool ok = true;
    for (const auto& [file, entry] : entries) {
        fs::create_directories(file.parent_path(), error);
        const fs::path temporary = temporaryFor(file);
        if (error || !writeOne(temporary, entry)) {
            fs::remove(temporary, error);
            ok = false;
            break;
        }
        written.push_back(temporary);
    }
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
        fs::rename(written[i], entries[i].first, error);
        ok = !error;
    }
    // Whatever was not renamed into place goes: no stray temporaries stay behind.
    for (const fs::path& temporary : written)
        fs::remove(temporary, error);
    return ok;
}

bool removeEntries(const std::vector<fs::path>& files) {
    bool ok = true;
    for (const fs::path& file : files) {
        std::error_code error;
        fs::remove(file, error);
        ok = ok && !error;
    }
    return ok;
}

} // namespace tavik::registry
