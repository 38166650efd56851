// termsim: a handheld terminal on a serial line, for checking a server or a
// cradle without a handheld.
#include "termsim.h"

int main(int argc, char** argv) {
    return termsim::termsim_main(argc, argv);
}
