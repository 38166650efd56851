#include "server_reset.h"

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/relay.h"
#include "network/socket.h"
#include "serial/modem.h"
#include "serial/port.h"
#include "terminal/commands.h"
#include "terminal/frame.h"
#include "terminal/progress.h"
#include "terminal/xmodem.h"

namespace testing_support {

void reset_everything() {
    ql::log_reset();
    ql::settings_reset_defaults();
    ql::server_state_reset();
    ql::modem_reset_state();
    ql::commands_reset();
    ql::fields_reset();
    ql::xm_reset();
    ql::ftp_bridge_reset();
    ql::relay_bridge_reset();
    ql::ftp_reset();
    ql::relay_reset();
    ql::socket_layer_reset();
    ql::progress_reset();
    ql::port_reset_state();
    ql::serial_set_time_divisor(1);
}

}  // namespace testing_support
