#include "tools/sample/SampleArchive.h"
