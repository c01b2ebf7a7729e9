#include "PavonaDigest.h"
