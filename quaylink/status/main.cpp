// quaylink-status: one view of every line on this machine.
#include "status_report.h"

int main(int argc, char** argv) {
    return ql::run_status(argc, argv);
}
