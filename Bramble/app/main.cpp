#include "app/BrambleApp.h"

int main(int argc, char **argv)
{
    return BrambleApp::main(argc, argv);
}
