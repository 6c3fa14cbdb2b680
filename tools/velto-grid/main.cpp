#include "GridApp.h"

int main(int argc, char** argv) { return velto::tools::GridApp::main(argc, argv); }
