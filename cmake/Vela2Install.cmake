# What `cmake --install` puts where, the pkg-config file, the CMake package and
# the Debian packages. Every installed file names paths relative to the
# installation, so an installed tree can be moved.
include(CMakePackageConfigHelpers)

set(_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vela2UsbCamera)

# pkg-config: the prefix from the .pc file's own place.
file(RELATIVE_PATH _pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/vela2usbcamera.pc.in
               ${PROJECT_BINARY_DIR}/vela2usbcamera.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vela2usbcamera.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# find_package(Vela2UsbCamera) gives Vela2UsbCamera::Vela2UsbCamera.
install(EXPORT Vela2UsbCameraTargets NAMESPACE Vela2UsbCamera:: DESTINATION ${_package_dir}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/Vela2UsbCameraConfig.cmake.in
    ${PROJECT_BINARY_DIR}/Vela2UsbCameraConfig.cmake INSTALL_DESTINATION ${_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/Vela2UsbCameraConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/Vela2UsbCameraConfig.cmake
              ${PROJECT_BINARY_DIR}/Vela2UsbCameraConfigVersion.cmake
        DESTINATION ${_package_dir} COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vela2cam
        COMPONENT tools)

# ---- Debian packages (cpack -G DEB in a build configured for prefix /usr) ----
set(_deb_packages library development tools)
set(_deb_name_library libvela2usbcamera4)
set(_deb_name_development libvela2usbcamera-dev)
set(_deb_name_tools vela2cam)

# Each package documents itself: copyright and a compressed changelog in
# /usr/share/doc/<package>, installed only into the packages.
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
foreach(_package ${_deb_packages})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
                  ${PROJECT_BINARY_DIR}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_deb_name_${_package}}
            COMPONENT ${_package}-doc EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela2usbcamera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vela2 camera library developers <developers@vela2-camera.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools need the library of this build, which no installed package has
# described yet; their dependency on its package is stated below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src/api)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_COMPONENTS_ALL runtime system-settings library-doc development development-doc tools tools-doc)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${_deb_name_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "USB CCD camera control library
Initializes a cooled CCD camera on USB for a readout mode, takes pictures,
reconstructs one 16-bit image per sensor quadrant, reads temperatures and
cooler currents. Includes the settings, readout modes and udev rule.")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/conffiles ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${_deb_name_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${_deb_name_library} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "USB CCD camera control library: development files
The C header, the pkg-config file and the CMake package of the camera
library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${_deb_name_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${_deb_name_library} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "USB CCD camera command-line tool and INDI driver
vela2cam takes pictures into FITS files and looks after the camera:
temperatures, memory blocks, vendor requests; with the INDI driver when it
was built.")

# The configuration files in /etc, which upgrades keep and a purge removes.
file(GLOB _epal_images ${PROJECT_SOURCE_DIR}/config/epal/*.hex)
set(_conffiles "/etc/vela2/Vela2Usb.ini\n/etc/vela2/modes.ini\n")
foreach(_image ${_epal_images})
    get_filename_component(_name ${_image} NAME)
    string(APPEND _conffiles "/etc/vela2/epal/${_name}\n")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/debian/conffiles "${_conffiles}")

include(CPack)
cpack_add_component_group(library)
cpack_add_component_group(development)
cpack_add_component_group(tools)
foreach(_component runtime system-settings library-doc)
    cpack_add_component(${_component} GROUP library)
endforeach()
cpack_add_component(development GROUP development)
cpack_add_component(development-doc GROUP development)
cpack_add_component(tools GROUP tools)
cpack_add_component(tools-doc GROUP tools)
