// Writing glyphs as the fonts of other programs: BDF, PSF and hex.
#pragma once
