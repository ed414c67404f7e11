#include "app/Startup.h"

int main(int argc, char** argv) { return zlt::app::RunStartup(argc, argv); }
