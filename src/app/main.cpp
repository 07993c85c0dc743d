#include "TarvelApp.h"

int main(int argc, char** argv) {
    CTarvelApp app(argc, argv);
    return app.Run();
}
