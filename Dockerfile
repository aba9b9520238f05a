# SPDX-License-Identifier: ISC
#
# cpuspend as a small image: the two programs, linked statically, and tini
# as PID 1, with nothing else: no shell and no C library.  A process that is
# PID 1 in its namespace ignores SIGTERM unless it handles it, and cpuspend
# installs no handlers, so without an init a stop would wait out its
# timeout and then kill.
#
#   podman build -t cpuspend .
#   podman run --rm cpuspend -seconds 3
#   podman run --rm --cpus=0.5 --entrypoint \
#     '["/usr/bin/tini", "--", "/usr/bin/cpuspend-check-limit"]' cpuspend

FROM debian:bookworm-slim AS build
RUN apt-get update \
 && apt-get install -y --no-install-recommends cmake g++ make tini \
 && rm -rf /var/lib/apt/lists/*
WORKDIR /src
COPY CMakeLists.txt ./
COPY src/ src/
COPY check-limit/ check-limit/
COPY man/ man/
RUN cmake -S . -B build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release -DCPUSPEND_STATIC=ON \
 && cmake --build build \
 && install -D -s build/cpuspend /rootfs/usr/bin/cpuspend \
 && install -D -s build/cpuspend-check-limit /rootfs/usr/bin/cpuspend-check-limit \
 && install -D /usr/bin/tini-static /rootfs/usr/bin/tini

FROM scratch
COPY --from=build /rootfs/ /
USER 65534:65534
LABEL org.opencontainers.image.title="cpuspend" \
      org.opencontainers.image.description="CPU load that stops after a set amount of its own processor time, and a check that a CPU limit holds" \
      org.opencontainers.image.version="1.0.0" \
      org.opencontainers.image.licenses="ISC"
ENTRYPOINT ["/usr/bin/tini", "--", "/usr/bin/cpuspend"]
