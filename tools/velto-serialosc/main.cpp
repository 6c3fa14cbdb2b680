#include "SerialoscApp.h"

int main(int argc, char** argv) { return velto::tools::SerialoscApp::main(argc, argv); }
