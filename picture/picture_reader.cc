#include "picture_reader.h"
