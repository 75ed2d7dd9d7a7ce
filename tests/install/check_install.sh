#!/usr/bin/env bash
# The installed tree as its users meet it. One step per call:
#   check_install.sh STEP BUILD_DIR SOURCE_DIR PREFIX PYTHON
# install: cmake --install into PREFIX; pkgconfig: a C program built through pkg-config;
# cmake: a CMake project through find_package; python: the installed package finds the
# installed library by itself; pip: pip install --no-build-isolation in a virtual environment;
# deb: cpack -G DEB, and the package holds every part.
set -euo pipefail
step="$1" build="$2" source="$3" prefix="$4" python="$5"
work="$prefix-work/$step"
rm -rf "$work" && mkdir -p "$work"
case "$step" in
install)
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >"$work/install.log"
    ;;
pkgconfig)
    export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
    cc -std=c11 "$source/tests/install/consumer.c" -o "$work/consumer" \
        $(pkg-config --cflags --libs sigkit) -lm -Wl,-rpath,"$(pkg-config --variable=libdir sigkit)"
    "$work/consumer" "$work/out.wav"
    ;;
cmake)
    cmake -S "$source/tests/install/consumer" -B "$work" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_BUILD_RPATH="$prefix/lib" >/dev/null
    cmake --build "$work" >/dev/null
    "$work/consumer" "$work/out.wav"
    ;;
python)
    site=$(echo "$prefix"/lib/python3*/dist-packages)
    env -u SIGKIT_LIBRARY PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 "$python" -c "
import numpy as np, sigkit
x = np.exp(2j * np.pi * 0.01 * np.arange(48000)).astype(np.complex64)
y = sigkit.resample(x, 48000, 8000, quality='low')
sigkit.write('$work/out.wav', y, 8000)
print('sigkit', sigkit.version(), 'from', sigkit.__file__, len(y), 'frames')
assert sigkit.__file__.startswith('$site')
"
    ;;
pip)
    "$python" -m venv --system-site-packages "$work/venv"
    cp -r "$source/python" "$work/src"
    rm -rf "$work/src/sigkit/__pycache__"
    "$work/venv/bin/pip" install --no-build-isolation --no-index --quiet "$work/src"
    cd "$work"
    SIGKIT_LIBRARY="$prefix/lib/libsigkit.so.1" "$work/venv/bin/python" -c "
import sigkit, numpy as np
assert 'venv' in sigkit.__file__, sigkit.__file__
print('pip-installed sigkit', sigkit.__version__, len(sigkit.invert(np.ones(100, np.complex64), 8000)))
"
    ;;
deb)
    (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log")
    deb=$(echo "$work"/*.deb)
    dpkg-deb -c "$deb" >"$work/contents"
    for part in usr/bin/sigrun usr/lib/libsigkit.so.1 usr/include/sigkit_api.h usr/include/sigkit.h \
        usr/lib/pkgconfig/sigkit.pc usr/lib/cmake/sigkit/sigkitConfig.cmake \
        usr/share/man/man1/sigrun.1 /dist-packages/sigkit/__init__.py /sigkit/_install.py; do
        grep -q -- "$part" "$work/contents" || { echo "$deb lacks $part"; exit 1; }
    done
    echo "$deb holds every part"
    ;;
*)
    echo "unknown step $step" >&2
    exit 2
    ;;
esac
