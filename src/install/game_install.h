// The game profile: everything the install needs to know about the Drovenhelm CD.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"

// 1 when every signature file stands in the source's root.
int game_is_cd(cd_source *s);
// Bytes of the WAV files that game_install_audio writes for this source.
uint64_t game_audio_bytes(cd_source *s);
// Every audio track as game\cdaudio\trackNN.wav, and the track list toc.txt.
int game_install_audio(cd_source *s, const char *game_dir, progress *p);
// The root files of the copied CD, less the videos, into the hard-disk folder, and CD.DAT.
int game_install_files(const char *cd_dir, const char *hd_dir);
// 1 when the game folder is an install's: game\hd\CD.DAT is there, or it holds nothing but the
// folders an install makes first (cd, hd, cdaudio), as an install that failed early leaves it.
int game_folder_is_ours(const char *game_dir);
// The title picture, relative to the CD's root.
const char *game_icon_lbm(void);

enum {
    WAV_HEADER = 44,
    AUDIO_BLOCK_SECTORS = 75,  // one second of sound
    // The WAV header's sizes are 32-bit: data + 36 must fit.
    WAV_MAX_SECTORS = (0xFFFFFFFFu - 36) / RAW_SECTOR,
};
