# skarvel.exe on Windows: a program of the graphical subsystem (no console
# window opens with it), with its icon and version information, installed
# into bin\ with the Qt libraries, plugins and translations it needs
# (Qt's deploy script runs windeployqt at install time; its translations
# include Russian, which the message boxes load).
include(GNUInstallDirs)

set(SKARVEL_ICO ${CMAKE_CURRENT_BINARY_DIR}/skarvel.ico)
set(iconSvg ${PROJECT_SOURCE_DIR}/ui/icons/skarvel.svg)
add_custom_command(
    OUTPUT ${SKARVEL_ICO}
    COMMAND skarvel-ico-from-svg ${iconSvg} ${SKARVEL_ICO}
    DEPENDS skarvel-ico-from-svg ${iconSvg}
    COMMENT "Drawing the Windows icon"
    VERBATIM)
configure_file(win/skarvel.rc.in ${CMAKE_CURRENT_BINARY_DIR}/skarvel.rc @ONLY)
target_sources(skarvel PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/skarvel.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/skarvel.rc PROPERTIES OBJECT_DEPENDS ${SKARVEL_ICO})
set_target_properties(skarvel PROPERTIES WIN32_EXECUTABLE ON)

install(TARGETS skarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(Qt6_VERSION VERSION_LESS 6.5)
    qt_generate_deploy_app_script(TARGET skarvel FILENAME_VARIABLE deployScript)
else()
    qt_generate_deploy_app_script(TARGET skarvel OUTPUT_SCRIPT deployScript)
endif()
install(SCRIPT ${deployScript})
