#include "app/uStartup.h"

int main(int argc, char** argv) { return zlt::RunStartup(argc, argv); }
