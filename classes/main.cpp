#include "VeltoApplication.h"

int main(int argc, char** argv) { return velto::VeltoApplicationMain(argc, argv); }
