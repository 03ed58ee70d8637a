# The static Windows builds of the dependencies, as imported targets with the
# names the Linux build gets from pkg-config.
set(SC_WINDOWS_PREFIX "" CACHE PATH "Prefix with the static Windows dependencies")
if(NOT SC_WINDOWS_PREFIX)
  message(FATAL_ERROR "SC_WINDOWS_PREFIX is not set (use scripts/build-windows)")
endif()
set(P ${SC_WINDOWS_PREFIX})
add_compile_definitions(_USE_MATH_DEFINES)
add_link_options(-static -static-libgcc -static-libstdc++)
set(RAPIDXML_INCLUDE_DIR ${P}/include)

function(sc_static_import name)
  cmake_parse_arguments(I "" "" "LIBS;LINK" ${ARGN})
  add_library(${name} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${P}/include
    INTERFACE_LINK_LIBRARIES "${I_LIBS};${I_LINK}")
endfunction()

sc_static_import(PkgConfig::FFTW3F LIBS ${P}/lib/libfftw3f.a)
sc_static_import(PkgConfig::PORTAUDIO LIBS ${P}/lib/libportaudio.a LINK winmm ole32 uuid setupapi)
sc_static_import(PkgConfig::SNDFILE LIBS ${P}/lib/libsndfile.a)
sc_static_import(PkgConfig::SAMPLERATE LIBS ${P}/lib/libsamplerate.a)
set(LAPACK_LIBRARIES ${P}/lib/liblapack.a ${P}/lib/libblas.a gfortran quadmath)
set(PORTAUDIO_FOUND TRUE)
set(PORTAUDIO_INCLUDE_DIRS ${P}/include)

if(SC_BUILD_GUI)
  find_package(Qt5 REQUIRED COMPONENTS Gui Widgets PrintSupport Concurrent)
  file(GLOB QWT_LIB ${P}/qwt/lib/libqwt*.a)
  add_library(PkgConfig::QWT INTERFACE IMPORTED GLOBAL)
  set_target_properties(PkgConfig::QWT PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${P}/qwt/include
    INTERFACE_LINK_LIBRARIES "${QWT_LIB};Qt5::Widgets;Qt5::PrintSupport;Qt5::Concurrent")
endif()
# Training needs LIBLINEAR and Armadillo, which the Windows build does not carry.
set(SC_WINDOWS_TOOLS_ONLY_OFFLINE TRUE)
