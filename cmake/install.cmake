# Installation (Debian layout) and the Debian package (scripts/package).
include(GNUInstallDirs)
set(SC_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/soundclassifier)
set(SC_PROGRAM ${CMAKE_INSTALL_FULL_LIBEXECDIR}/soundclassifier/soundclassifier)
set(SC_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

if(TARGET soundclassifier)
  # The window reads its documents from the working directory: the command on
  # the PATH and the menu entry start it through the launcher, in the user's
  # configuration folder.
  install(TARGETS soundclassifier RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/soundclassifier)
  configure_file(${SC_PACKAGING}/launcher.in ${CMAKE_BINARY_DIR}/launcher/soundclassifier @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/launcher/soundclassifier DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${SC_PACKAGING}/soundclassifier.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${SC_PACKAGING}/soundclassifier.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
set(sc_programs)
foreach(t soundclassifier-offline soundclassifier-record soundclassifier-train)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND sc_programs ${t})
  endif()
endforeach()
install(FILES config/ClassificationSystem.xml config/UserParameters.xml config/SystemParameters.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/soundclassifier)
install(FILES ${SC_PACKAGING}/copyright data/MANIFEST.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# An example to try the runner on: recordings of data/train over pink noise.
find_program(PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(PYTHON3)
  set(example ${CMAKE_BINARY_DIR}/examples/sounds.wav)
  add_custom_command(OUTPUT ${example}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/examples
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/realstream ${example} --per-class 2 > ${CMAKE_BINARY_DIR}/examples/sounds.txt
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/realstream)
  add_custom_target(example ALL DEPENDS ${example})
  install(FILES ${example} ${CMAKE_BINARY_DIR}/examples/sounds.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/soundclassifier/examples)
endif()

# Manual pages from --help and --version (help2man), and the changelog, gzipped
# reproducibly.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(sc_pages)
  set(name_soundclassifier "recognise short sounds from the microphone in real time")
  set(name_soundclassifier-offline "run recordings through soundclassifier's detection and classification")
  set(name_soundclassifier-record "save every sound event heard on the microphone as a WAV file")
  set(name_soundclassifier-train "train a soundclassifier model on recordings sorted by class")
  if(TARGET soundclassifier)
    list(APPEND sc_programs soundclassifier)
  endif()
  foreach(t ${sc_programs})
    set(page ${CMAKE_BINARY_DIR}/man/${t}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${HELP2MAN} --no-info --no-discard-stderr
              --section=1 "--name=${name_${t}}" --output=${CMAKE_BINARY_DIR}/man/${t}.1 $<TARGET_FILE:${t}>
      COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${t}.1
      DEPENDS ${t} VERBATIM)
    list(APPEND sc_pages ${page})
  endforeach()
  set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP} -9nc ${SC_PACKAGING}/changelog > ${changelog}
    DEPENDS ${SC_PACKAGING}/changelog)
  add_custom_target(docs ALL DEPENDS ${sc_pages} ${changelog})
  install(FILES ${sc_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME soundclassifier)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "soundclassifier developers <soundclassifier@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recognises short sounds from the microphone in real time")
# CPack puts the summary first and indents every line of this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "soundclassifier listens to a microphone, cuts the signal into short acoustic
events above an adaptively estimated background noise, describes each event
by spectral features and classifies it (linear SVM or Gaussian mixtures). Its
window shows the scrolling waveform with coloured event markers and a list of
recent events. The default model knows claps, knocks and coughs.

Command-line tools run recordings of any length through the same detection
and classification (soundclassifier-offline), record examples of a sound
(soundclassifier-record) and train a model on them (soundclassifier-train).")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The ALSA plugin that reaches a PulseAudio or PipeWire server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
