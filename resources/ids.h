// Fixed identifiers of the program: dialogs, controls, menu commands, timers, strings, icons.
// Panels, menus and keyboard maps address keys by these numbers; skins are addressed by
// bitmap number (see the skin catalogue).
#pragma once

namespace qv::ids {

// Dialog templates.
inline constexpr int kDlgAbout = 100;
inline constexpr int kDlgSoftKeyPanel = 102;
inline constexpr int kDlgXferData = 129;
inline constexpr int kDlgIp = 130;
inline constexpr int kDlgMsg = 239;
inline constexpr int kDlgModel = 240;
inline constexpr int kDlgHardKeyPanel = 241;
inline constexpr int kDlgCommNew = 763;

// Menus.
inline constexpr int kMenuSoftKey = 232;
inline constexpr int kMenuHardKey = 762;

// Icons.
inline constexpr int kIconApp = 128;
inline constexpr int kIconConnected = 233;
inline constexpr int kIconDisconnected = 234;

// String table.
inline constexpr int kStrAbout = 101;          // "Infomation"
inline constexpr int kStrDisconnected = 103;   // "Disconnected"
inline constexpr int kStrRemoteStopped = 104;  // "Remote Control Stopped"
inline constexpr int kStrAddress = 105;        // "0.0.0.0"
inline constexpr int kStrBlank = 106;          // " "

// Standard dialog commands.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Session commands: buttons of the panel templates and items of the right-click menu.
inline constexpr int kCmdConnect = 1000;
inline constexpr int kCmdDisconnect = 1001;
inline constexpr int kCmdStart = 1010;
inline constexpr int kCmdStop = 1011;

// Menu commands.
inline constexpr int kCmdIpAddress = 32775;
inline constexpr int kCmdCommunication = 32776;
inline constexpr int kCmdScale100 = 32777;
inline constexpr int kCmdScale85 = 32778;
inline constexpr int kCmdScale70 = 32779;
inline constexpr int kCmdQualityHigh = 32780;
inline constexpr int kCmdQualityMedium = 32781;
inline constexpr int kCmdQualityLow = 32782;
inline constexpr int kCmdScreenMode = 32796;
inline constexpr int kCmdAbout = 16;  // system-menu "Infomation"
// Added to both panels' menus.
inline constexpr int kCmdAutoReconnect = 32807;  // "Reconnect automatically"

// Menu commands of this program's own (keeping screens, live rate); 32800 is the soft-key
// panel's replay item.
inline constexpr int kCmdSaveScreen = 32801;
inline constexpr int kCmdCopyScreen = 32802;
inline constexpr int kCmdRecord = 32803;
inline constexpr int kCmdLiveNormal = 32804;
inline constexpr int kCmdLiveResponsive = 32805;
inline constexpr int kCmdLiveFast = 32806;
inline constexpr int kCmdShare = 32820;            // "Share in browser…"
inline constexpr int kCmdExportRecording = 32808;  // "Export recording…"

// Timers.
inline constexpr int kTimerReplay = 100;
inline constexpr int kTimerWatchdog = 200;

// Hard-key panel controls.
inline constexpr int kHardKeyFirst = 1073;
inline constexpr int kHardKeyLast = 1100;
inline constexpr int kHardKnob = 1101;
inline constexpr int kHardScreenPicture = 1049;

// Soft-key panel controls.
inline constexpr int kSoftKeyFirst = 1013;
inline constexpr int kSoftKeyLast = 1046;
inline constexpr int kSoftKnob = 1061;
inline constexpr int kSoftKeyboardButton = 1109;
inline constexpr int kSoftIpLabel = 1060;
inline constexpr int kSoftIpEdit = 1009;
inline constexpr int kSoftListBox = 1006;
inline constexpr int kSoftStatusLabel = 1062;

// Replay controls (soft-key panel).
inline constexpr int kReplayOpen = 1052;
inline constexpr int kReplaySlower = 1053;
inline constexpr int kReplayStop = 1054;
inline constexpr int kReplayPlay = 1055;
inline constexpr int kReplayFaster = 1056;
inline constexpr int kReplaySpeedLabel = 1057;
inline constexpr int kReplayExport = 1058;  // "Export video…"
inline constexpr int kReplaySlider = 1059;

// Model-line dialog.
inline constexpr int kModelLine0 = 1071;
inline constexpr int kModelLine1 = 1072;
inline constexpr int kModelLine2 = 1073;

// Communication dialog.
inline constexpr int kCommIpv4Radio = 1104;
inline constexpr int kCommIpv6Radio = 1105;
inline constexpr int kCommUsbRadio = 1106;
inline constexpr int kCommIpv4Address = 1108;
inline constexpr int kCommIpv6Edit = 1009;
inline constexpr int kCommOk = 1107;

// IP address dialog.
inline constexpr int kIpAddress = 1063;
inline constexpr int kIpOk = 1064;

// Connection-failed message.
inline constexpr int kMsgHeading = 1067;
inline constexpr int kMsgLine1 = 1068;
inline constexpr int kMsgLine2 = 1069;
inline constexpr int kMsgAdvice = 1070;

// About box.
inline constexpr int kAboutVersion = 1065;
inline constexpr int kAboutVendor = 1066;

// Transfer-progress dialog.
inline constexpr int kXferStatus = 1500;
inline constexpr int kXferProgress = 1002;

}  // namespace qv::ids
