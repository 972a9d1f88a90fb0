#include "session/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>

#include "link/Files.h"

namespace qv {
namespace {

constexpr const char* kGroup = "Connection";
constexpr const char* kOrganisation = "Orvane";
constexpr const char* kApplication = "QVRemote";

bool InInt32(long long v) {
    return v >= std::numeric_limits<std::int32_t>::min() &&
           v <= std::numeric_limits<std::int32_t>::max();
}

// A stored number as a 32-bit value. The INI backend gives every number back as text, the
// registry gives numbers; anything else (lists, binary, fractions, out of range) is no number.
bool ToInt32(const QVariant& v, int& out) {
    bool ok = false;
    long long n = 0;
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::LongLong:
            n = v.toLongLong(&ok);
            break;
        case QMetaType::UInt:
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const unsigned long long u = v.toULongLong(&ok);
            ok = ok && u <= static_cast<unsigned long long>(std::numeric_limits<int>::max());
            n = static_cast<long long>(u);
            break;
        }
        case QMetaType::QString:
            n = v.toString().trimmed().toLongLong(&ok, 10);
            break;
        case QMetaType::QByteArray:
            n = v.toByteArray().trimmed().toLongLong(&ok, 10);
            break;
        default:
            return false;
    }
    if (!ok || !InInt32(n)) {
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

// A stored text as single-byte characters: up to the first zero (a writer may have stored
// the terminator, or binary data), never more than kMaxSettingText characters.
bool ToText(const QVariant& v, std::string& out) {
    QByteArray bytes;
    if (v.typeId() == QMetaType::QString) {
        bytes = v.toString().left(static_cast<qsizetype>(kMaxSettingText)).toLatin1();
    } else if (v.typeId() == QMetaType::QByteArray) {
        bytes = v.toByteArray().left(static_cast<qsizetype>(kMaxSettingText));
    } else {
        return false;
    }
    qsizetype n = bytes.indexOf('\0');
    if (n < 0) {
        n = bytes.size();
    }
    out.assign(bytes.constData(), static_cast<std::size_t>(n));
    return true;
}

bool HasGroup(QSettings& s) {
    return s.childGroups().contains(QLatin1String(kGroup));
}

bool ReadTextIn(QSettings& s, const char* name, std::string& out) {
    const QVariant v = s.value(QLatin1String(name));
    return v.isValid() && ToText(v, out);
}

// The store would make its folders and file readable by everyone. Made first, here, they are
// the user's alone (folders 0700, file 0600), and the store keeps the file's mode when it
// rewrites it. Folders and a file that exist are left as they are.
void PreparePrivateFile(const QString& fileName) {
    const std::string path = QFile::encodeName(fileName).toStdString();
    struct stat st {};
    if (path.empty() || path[0] != '/' || ::lstat(path.c_str(), &st) == 0 || errno != ENOENT ||
        MakePrivateFolders(path.substr(0, path.rfind('/'))) != 0) {
        return;
    }
    const int fd = CreateNewFile(AT_FDCWD, path);
    if (fd >= 0) {
        ::close(fd);
    }
}

QString FromBytes(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(std::string iniPath) : iniPath_(std::move(iniPath)) {}

std::unique_ptr<QSettings> SettingsStore::Open() const {
    if (iniPath_.empty()) {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QLatin1String(kOrganisation),
                                           QLatin1String(kApplication));
    }
    return std::make_unique<QSettings>(QString::fromStdString(iniPath_), QSettings::IniFormat);
}

bool SettingsStore::KeyExists() const {
    auto s = Open();
    return HasGroup(*s);
}

void SettingsStore::Write(QSettings& s, const char* name, const QVariant& value) {
    // Any write may make the file: the first Load that mends a value, a store when only a
    // system-wide file (XDG_CONFIG_DIRS) holds the key, or the communication dialog.
    PreparePrivateFile(s.fileName());
    s.setValue(QLatin1String(name), value);
}

int SettingsStore::ReadChoice(QSettings& s, const char* name, int maxValue) {
    int v = 0;
    const QVariant raw = s.value(QLatin1String(name));
    if (raw.isValid() && ToInt32(raw, v) && v >= 0 && v <= maxValue) {
        return v;
    }
    Write(s, name, 0);
    return 0;
}

Settings SettingsStore::Load() {
    Settings out;
    auto s = Open();
    if (!HasGroup(*s)) {
        return out;
    }
    out.keyExisted = true;
    s->beginGroup(QLatin1String(kGroup));

    int method = 0;
    const QVariant rawMethod = s->value(QLatin1String(kSetMethod));
    // An unusable method is replaced for this session only; the stored value stays.
    out.method = rawMethod.isValid() && ToInt32(rawMethod, method) ? method : 2;
    out.scale = ReadChoice(*s, kSetScale, 2);
    out.quality = ReadChoice(*s, kSetQuality, 2);
    out.hideKeyBtn = ReadChoice(*s, kSetHideKeyBtn, 1);
    // Missing or unreadable means on, and nothing is written for it.
    int autoReconnect = 1;
    const QVariant rawAuto = s->value(QLatin1String(kSetAutoReconnect));
    if (rawAuto.isValid() && ToInt32(rawAuto, autoReconnect) &&
        (autoReconnect == 0 || autoReconnect == 1)) {
        out.autoReconnect = autoReconnect;
    }
    if (!ReadTextIn(*s, kSetIp, out.ip)) {
        out.ip = kNoIpv4;
    }
    if (!ReadTextIn(*s, kSetIpv6, out.ipv6)) {
        out.ipv6 = kDefaultIpv6;
    }
    // Missing means Normal and is left missing.
    if (s->contains(QLatin1String(kSetLiveRate))) {
        out.liveRate = ReadChoice(*s, kSetLiveRate, 2);
    }
    s->endGroup();
    s->sync();
    return out;
}

int SettingsStore::StoreInt(const char* name, int value) {
    auto s = Open();
    if (!HasGroup(*s)) {
        return 0;
    }
    s->beginGroup(QLatin1String(kGroup));
    Write(*s, name, value);
    s->endGroup();
    s->sync();
    return s->status() == QSettings::NoError ? 1 : 0;
}

int SettingsStore::StoreText(const char* name, std::string_view value) {
    auto s = Open();
    if (!HasGroup(*s)) {
        return 0;
    }
    s->beginGroup(QLatin1String(kGroup));
    Write(*s, name, FromBytes(value));
    s->endGroup();
    s->sync();
    return s->status() == QSettings::NoError ? 1 : 0;
}

bool SettingsStore::ReadText(const char* name, std::string& out) const {
    auto s = Open();
    if (!HasGroup(*s)) {
        return false;
    }
    s->beginGroup(QLatin1String(kGroup));
    return ReadTextIn(*s, name, out);
}

CommunicationResult SettingsStore::StoreCommunication(int method, const std::string& ip,
                                                      const std::string& ipv6) {
    auto s = Open();
    const bool existed = HasGroup(*s);
    // Writing through the group creates the key on first use.
    s->beginGroup(QLatin1String(kGroup));
    if (method == 1) {
        Write(*s, kSetIp, FromBytes(ip));
    } else if (method == 3) {
        Write(*s, kSetIpv6, FromBytes(ipv6));
    }
    Write(*s, kSetMethod, method);
    s->endGroup();
    s->sync();

    CommunicationResult result;
    if (!existed) {
        return result;  // first use: the pane keeps its text
    }
    result.paneChanged = true;
    if (method == 1) {
        result.paneText = "TCP/IP : " + ip;
    } else if (method == 3) {
        result.paneText = "IPv6 : " + ipv6;
    } else {
        result.paneText = "USB";
    }
    return result;
}

int SettingsStore::ScaleOnlyValidate() {
    auto s = Open();
    if (!HasGroup(*s)) {
        return 0;
    }
    s->beginGroup(QLatin1String(kGroup));
    const int scale = ReadChoice(*s, kSetScale, 2);
    s->endGroup();
    s->sync();
    return scale;
}

}  // namespace qv
