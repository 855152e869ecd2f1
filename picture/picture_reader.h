// Reading a picture of glyphs back: a PNG that zenpo-dump or zenpo-convert
// drew, or a plain font sheet made elsewhere.
#pragma once
