#include "app/app.h"

int main(int argc, char** argv) { return PmrMain(argc, argv); }
