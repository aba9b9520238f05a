# SPDX-License-Identifier: ISC
#
# cpuspend as a small image: the three programs, linked statically, and tini
# as PID 1, with nothing else: no shell and no C library.  A process that is
# PID 1 in its namespace ignores SIGTERM unless it handles it, and cpuspend
# installs no handlers, so without an init a stop would wait out its
# timeout and then kill.
#
#   podman build -t cpuspend .
#   podman run --rm cpuspend -seconds 3
#   podman run --rm --cpus=0.5 --entrypoint \
#     '["/usr/bin/tini", "--", "/usr/bin/cpuspend-check-limit"]' cpuspend
#
# For amd64 and arm64 at once, as one image index (podman before 4.4 sets
# no BUILDPLATFORM, so give it; docker buildx and newer podman set it):
#
#   podman build --platform linux/amd64,linux/arm64 \
#     --build-arg BUILDPLATFORM=linux/amd64 --manifest cpuspend .
#   docker buildx build --platform linux/amd64,linux/arm64 -t cpuspend .
#
# The build stage runs on the build machine's platform and cross-compiles
# for the target with Debian's cross compilers, rather than emulating it.

ARG BUILDPLATFORM=linux/amd64
FROM --platform=$BUILDPLATFORM debian:bookworm-slim AS build
ARG TARGETARCH=amd64
RUN native=$(dpkg --print-architecture); \
    case "$TARGETARCH" in \
      "$native") cxx=g++ strip=strip toolchain= ;; \
      arm64) cxx=g++-aarch64-linux-gnu strip=aarch64-linux-gnu-strip \
        toolchain=-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake ;; \
      *) echo "cannot build for $TARGETARCH" >&2; exit 1 ;; \
    esac \
 && printf 'strip=%s\ntoolchain=%s\n' "$strip" "$toolchain" >/target.env \
 && { [ "$TARGETARCH" = "$native" ] || dpkg --add-architecture "$TARGETARCH"; } \
 && apt-get update \
 && apt-get install -y --no-install-recommends cmake make "$cxx" "tini:$TARGETARCH" \
    libboost-dev "libssl-dev:$TARGETARCH" nlohmann-json3-dev \
 && rm -rf /var/lib/apt/lists/*
WORKDIR /src
COPY CMakeLists.txt ./
COPY cmake/ cmake/
COPY src/ src/
COPY common/ common/
COPY check-limit/ check-limit/
COPY check-monitor/ check-monitor/
COPY man/ man/
COPY examples/systemd/ examples/systemd/
RUN . /target.env \
 && cmake -S . -B build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release -DCPUSPEND_STATIC=ON $toolchain \
 && cmake --build build \
 && mkdir -p /rootfs/usr/bin \
 && "$strip" -o /rootfs/usr/bin/cpuspend build/cpuspend \
 && "$strip" -o /rootfs/usr/bin/cpuspend-check-limit build/cpuspend-check-limit \
 && "$strip" -o /rootfs/usr/bin/cpuspend-check-monitor build/cpuspend-check-monitor \
 && cp /usr/bin/tini-static /rootfs/usr/bin/tini

FROM scratch
COPY --from=build /rootfs/ /
USER 65534:65534
LABEL org.opencontainers.image.title="cpuspend" \
      org.opencontainers.image.description="CPU load that stops after a set amount of its own processor time, and checks of CPU limits and monitors" \
      org.opencontainers.image.version="1.4.0" \
      org.opencontainers.image.licenses="ISC"
ENTRYPOINT ["/usr/bin/tini", "--", "/usr/bin/cpuspend"]
