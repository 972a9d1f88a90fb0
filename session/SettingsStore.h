// The per-user settings behind one small adapter: the key "Connection" of the organisation
// "Orvane", application "QVRemote". Every read applies the defaults and validation rules of
// the stored values, so callers never see a value they cannot use.
#pragma once

#include <QSettings>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

// Value names under the key; stored settings rely on them.
inline constexpr const char* kSetMethod = "Method";
inline constexpr const char* kSetScale = "Scale";
inline constexpr const char* kSetQuality = "Quality";
inline constexpr const char* kSetHideKeyBtn = "HideKeyBtn";
// Whether a lost link heals itself (1, the default) or its loss is reported (0).
inline constexpr const char* kSetAutoReconnect = "AutoReconnect";
inline constexpr const char* kSetIp = "IP";
inline constexpr const char* kSetIpv6 = "IPV6";
// How fast the screen follows the instrument: 0 Normal, 1 Responsive, 2 Fast. Read last; a
// store without it is at Normal and stays without it.
inline constexpr const char* kSetLiveRate = "LiveRate";

// Used when the key exists but the address value does not.
inline constexpr const char* kNoIpv4 = "0.0.0.0";
inline constexpr const char* kDefaultIpv6 = "0:0:0:0:0:0:0:1";
// Used when the key itself is missing (a machine that never stored settings).
inline constexpr const char* kDefaultIpv4 = "192.168.1.100";

// Longest address text taken from the store.
inline constexpr std::size_t kMaxSettingText = 255;

struct Settings {
    // The stored "Method" as it is, 2 when missing or unreadable. A value outside 1..3 is kept
    // (it stays in the store); LinkMethod() gives what the session connects by.
    int method = 2;
    int scale = 0;
    int quality = 0;
    int hideKeyBtn = 0;
    int autoReconnect = 1;
    int liveRate = 0;
    std::string ip = kDefaultIpv4;
    std::string ipv6 = kDefaultIpv6;
    bool keyExisted = false;

    int LinkMethod() const { return method >= 1 && method <= 3 ? method : 2; }
};

// What the communication dialog's OK leaves in status pane 3.
struct CommunicationResult {
    bool paneChanged = false;
    std::string paneText;
};

class SettingsStore {
  public:
    // The user's own store (native format).
    SettingsStore();
    // An INI file at iniPath; tests use a temporary one.
    explicit SettingsStore(std::string iniPath);

    // The key "Connection" exists in the store.
    bool KeyExists() const;

    // Reads every value in order, writing back the ones that are replaced by 0 ("LiveRate"
    // only when it is there but unusable).
    Settings Load();

    // Store one value; only when the key exists. Returns 1 when stored, else 0.
    int StoreInt(const char* name, int value);
    int StoreText(const char* name, std::string_view value);
    // The menu's and dialogs' choices, each under its own name; only when the key exists.
    int StoreQuality(int index) { return StoreInt(kSetQuality, index); }
    int StoreScale(int scale) { return StoreInt(kSetScale, scale); }
    int StoreHideKeyBtn(bool hidden) { return StoreInt(kSetHideKeyBtn, hidden ? 1 : 0); }
    int StoreAutoReconnect(bool on) { return StoreInt(kSetAutoReconnect, on ? 1 : 0); }
    int StoreLiveRate(int rate) { return StoreInt(kSetLiveRate, rate); }
    int StoreIpv4(std::string_view ip) { return StoreText(kSetIp, ip); }

    // A text value as the store holds it, cut at a zero and to kMaxSettingText characters.
    // Returns false when the key or the value is missing or is not a text.
    bool ReadText(const char* name, std::string& out) const;

    // The communication dialog's OK: stores "Method" and the address of that method, creating
    // the key on first use. The result says what pane 3 shows afterwards.
    CommunicationResult StoreCommunication(int method, const std::string& ip,
                                           const std::string& ipv6);

    // Validates "Scale" only (writing 0 back when invalid) and returns the value in use.
    int ScaleOnlyValidate();

  private:
    std::unique_ptr<QSettings> Open() const;
    // Reads a 32-bit number in 0..maxValue; writes 0 back when missing, invalid or out of range.
    static int ReadChoice(QSettings& s, const char* name, int maxValue);
    static void Write(QSettings& s, const char* name, const QVariant& value);

    std::string iniPath_;  // empty: the user's native store
};

}  // namespace qv
