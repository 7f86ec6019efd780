// The version as text. The build defines DROVENHELM_VERSION_DOTS (1.0.0.0, a preprocessor number)
// and DROVENHELM_VERSION_COMMAS from res/setup.manifest; the text is made here because the resource
// compiler loses the quotes of a string given on its command line.
#pragma once
#define DROVENHELM_TEXT_(v) #v
#define DROVENHELM_TEXT(v) DROVENHELM_TEXT_(v)
#define DROVENHELM_VERSION DROVENHELM_TEXT(DROVENHELM_VERSION_DOTS)
