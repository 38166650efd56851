# Sourced by the wine launchers: hands Qt's settings to Windows programs.
#
# Wine keeps every QT_* variable of the Linux side away from Windows
# programs (it would mislead a Windows Qt); it passes WINEQT_X on as QT_X
# instead. So each QT_* setting (QT_QPA_PLATFORM=offscreen from a test's
# environment, say) is handed on under that name. Two more are set:
# - QT_FORCE_STDERR_LOGGING: without a console of its own a Windows Qt
#   sends its messages (and QTest's) to OutputDebugString, where no test
#   run sees them;
# - QT_QPA_FONTDIR: the offscreen platform reads its fonts from a folder;
#   a Windows prefix has none of the usual ones, so it gets Debian's DejaVu.
for qt_var in $(compgen -e | grep '^QT_' || true); do
  export "WINE$qt_var=${!qt_var}"
done
export WINEQT_FORCE_STDERR_LOGGING="${WINEQT_FORCE_STDERR_LOGGING:-1}"
if [ -z "${WINEQT_QPA_FONTDIR:-}" ] && [ -d /usr/share/fonts/truetype/dejavu ]; then
  export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
fi
unset qt_var
