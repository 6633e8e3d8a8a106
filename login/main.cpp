#include "CloginApp.h"

int main(int argc, char** argv) {
    CloginApp app;
    return app.Run(argc, argv);
}
