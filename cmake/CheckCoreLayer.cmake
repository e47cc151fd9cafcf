# Fails when a source of the launcher core includes a Qt Widgets or Qt GUI header. The core's
# include path holds Qt Core only, so <QWidget> cannot be found there anyway; this catches the
# spelled-out forms (<QtWidgets/QWidget>, <QtGui>) that the Qt include root would let through.
# Usage: cmake -DCORE_DIR=<folder> -DSTAMP=<file> -P CheckCoreLayer.cmake
file(GLOB_RECURSE sources "${CORE_DIR}/*.h" "${CORE_DIR}/*.cpp")
set(offenders "")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](QtWidgets|QtGui)([/>\"])")
    if(lines)
        list(APPEND offenders "${source}: ${lines}")
    endif()
endforeach()
if(offenders)
    list(JOIN offenders "\n  " report)
    message(FATAL_ERROR "The launcher core links Qt Core only; these include widget or GUI "
        "headers:\n  ${report}")
endif()
file(TOUCH "${STAMP}")
