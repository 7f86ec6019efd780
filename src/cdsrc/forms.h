// The forms of the game CD that the setup reads, as the player sees them, in one list: the Image...
// picker's filter, the search beside the setup at start and the notice of an install without music
// are all made from it. A new form is one row here, beside its reader (cdsrc.h); a form that comes
// to keep the CD's music gets FORM_MUSIC. No platform headers.
#pragma once
#include <stddef.h>

enum {
    FORM_PICKED = 1,    // offered by the Image... picker's filter
    FORM_SEARCHED = 2,  // tried when it lies beside the setup and no drive holds the CD
    FORM_MUSIC = 4,     // keeps the CD's audio tracks, from which the install makes the music
};

struct cd_form {
    const char *ext;   // the file name's ending, ".nrg"; null for a form that is no file
    const char *name;  // as a sentence names it: "a Nero image"
    unsigned flags;
};

extern const cd_form cd_forms[];
extern const size_t cd_form_count;

// The flags of the form whose ending the file name has, in any letter case; 0 for none.
unsigned cd_form_flags(const char *name);
// The patterns of the forms with all of flags, "*.iso;*.cue;...", into buf (a longer text is cut).
// Returns buf.
char *cd_form_patterns(char *buf, size_t size, unsigned flags);
// The forms with all of flags as a sentence lists them, "a cue sheet (.cue), a Nero image (.nrg) or
// an Alcohol image (.mds)", into buf (a longer text is cut). Returns buf.
char *cd_form_names(char *buf, size_t size, unsigned flags);
