# The codec and compression libraries that tools/deps/build-deps.sh builds from Debian's source
# packages (run.sh runs it before CMake), as imported static targets:
#   deps::zlib deps::lzma deps::zstd deps::flac deps::ogg deps::vorbis deps::vorbisfile
#   deps::opus deps::opusfile deps::speexdsp
# A target brings its headers (as system headers) and the libraries it needs itself.
set(DEPS_PREFIX "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH
    "Where tools/deps/build-deps.sh installed the libraries")

function(deps_library name file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "NEEDS;DEFINES;INCLUDES")
  set(path "${DEPS_PREFIX}/lib/${file}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${path} is missing: run tools/deps/build-deps.sh (./run.sh build does)")
  endif()
  add_library(deps::${name} STATIC IMPORTED GLOBAL)
  list(TRANSFORM arg_NEEDS PREPEND deps::)
  set(includes "${DEPS_PREFIX}/include")
  foreach(sub IN LISTS arg_INCLUDES)
    list(APPEND includes "${DEPS_PREFIX}/include/${sub}")
  endforeach()
  set_target_properties(deps::${name} PROPERTIES
    IMPORTED_LOCATION "${path}"
    INTERFACE_INCLUDE_DIRECTORIES "${includes}"
    INTERFACE_COMPILE_DEFINITIONS "${arg_DEFINES}"
    INTERFACE_LINK_LIBRARIES "${arg_NEEDS}")
endfunction()

deps_library(zlib libz.a)
# Without these the headers declare every function as imported from a DLL.
deps_library(lzma liblzma.a DEFINES LZMA_API_STATIC)
deps_library(flac libFLAC.a DEFINES FLAC__NO_DLL)
deps_library(zstd libzstd.a)
deps_library(ogg libogg.a)
deps_library(vorbis libvorbis.a NEEDS ogg)
deps_library(vorbisfile libvorbisfile.a NEEDS vorbis)
deps_library(opus libopus.a)
# opusfile.h includes <opus_multistream.h> from the opus folder.
deps_library(opusfile libopusfile.a NEEDS opus ogg INCLUDES opus)
deps_library(speexdsp libspeexdsp.a)
