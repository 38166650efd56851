// Item identifiers of the window and its dialogs, and the object names of
// the widgets that carry them. The identifiers are the ones the rest of the
// server (and the operator's documentation) use; every widget's object name
// ends in its identifier, so a test or a reader can go from one to the other.
#pragma once

namespace ql::ui {

struct ItemName {
    int id;
    const char* object_name;
};

// Main window "Main".
inline constexpr ItemName kMainItems[] = {
    {2, "exit_2"},
    {101, "bitmap_101"},
    {200, "progressTitle_200"},
    {201, "progressPercent_201"},
    {207, "progressBar_207"},
    {208, "statusLine_208"},
    {209, "portLine_209"},
    {210, "baudLine_210"},
    {211, "connectLine_211"},
    {212, "networkStatus_212"},
    {301, "settings_301"},
    {302, "clear_302"},
    {304, "about_304"},
    {305, "load_305"},
    {309, "startStop_309"},
    {501, "statusList_501"},
};

// Commands of the main window beyond the buttons.
inline constexpr int kCmdExit = 2;
inline constexpr int kCmdSettings = 301;
inline constexpr int kCmdClear = 302;
inline constexpr int kCmdAbout = 304;
inline constexpr int kCmdLoad = 305;
inline constexpr int kCmdStartStop = 309;
inline constexpr int kCmdMinimise = 310;
inline constexpr int kCmdEnd = 505;
inline constexpr int kCmdRestart = 506;

// Settings dialog "Connect": radios 420-423 (connect), 400-405 (baud),
// combos 351 (port) and 352 (delay), boxes 441-445, text 206, OK 1,
// Cancel 2. Object names: see connect_dialog.ui.
inline constexpr const char* kConnectRadios[] = {"direct_420", "cradle_421", "modem_422",
                                                 "usbVcom_423"};
inline constexpr const char* kBaudRadios[] = {"baud9600_400",  "baud19200_401", "baud38400_402",
                                              "baud57600_403", "baud76800_404", "baud115200_405"};
inline constexpr int kBaudRates[] = {9600, 19200, 38400, 57600, 76800, 115200};

}  // namespace ql::ui
