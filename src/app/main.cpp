#include "SimPort.h"
#include "TarvelApp.h"

int main(int argc, char** argv) {
    // Before the window and its port: the stored port may be the simulated clock.
    RegisterSimPort();
    CTarvelApp app(argc, argv);
    return app.Run();
}
