#include "font_writers.h"
