// Entry point. The exe is a GUI-subsystem program, so no console opens;
// it reads no command line.
#include "app/launch.h"

int main() { return app::RunLauncher(); }
