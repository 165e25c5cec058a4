#include "tools/zvt/zvt_main.h"

int main(int argc, char** argv) { return skarvel::ZvtMain(argc, argv); }
