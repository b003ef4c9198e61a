# `make package`: a Debian package of the installed layout, built by CPack.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plinthos)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Plinthos developers <plinthos@plinthos.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "explore a folder of CSV and Parquet files with SQL")
# Lines of the description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Plinthos is a desktop application that lists the CSV and Parquet files of a
folder and runs SQL against them on the DuckDB engine, which it carries.
Answers are shown as paged tables or charts and can be exported to CSV;
saved queries make up dashboards with filters.")
# Installed with DESTDIR under /usr, so the desktop entry names /usr/bin/plinthos rather than the
# staging folder, whatever prefix the build was configured with.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Depends come from the binaries. The two libraries of the bundle's Frameworks folder ship in
# the package itself: dpkg-shlibdeps finds them there and leaves them out of Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "usr/lib/plinthos/Plinthos.app/Contents/Frameworks")
include(CPack)
