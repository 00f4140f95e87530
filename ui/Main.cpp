// The program's entry: the toolkit's entry creates the one ClientApp and runs it.

#include "ui/ClientApp.h"

wxIMPLEMENT_APP(ClientApp);
