// Anchors the Qt layer's library: every public header of the layer must compile on its own.
#include <KOVModule/KOVModuleQt.h>
