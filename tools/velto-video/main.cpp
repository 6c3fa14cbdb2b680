#include "VideoApp.h"

int main(int argc, char** argv) { return velto::tools::VideoApp::main(argc, argv); }
