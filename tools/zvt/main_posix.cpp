#include "tools/zvt/client.h"

int main(int argc, char** argv) { return skarvel::ZvtMain(argc, argv); }
