# SPDX-License-Identifier: ISC
#
# cpuspend as a small image: the program, the C library and dynamic loader
# it needs, and tini as PID 1.  A process that is PID 1 in its namespace
# ignores SIGTERM unless it handles it, and cpuspend installs no handlers,
# so without an init a stop would wait out its timeout and then kill.
#
#   podman build -t cpuspend .
#   podman run --rm cpuspend -seconds 3

FROM debian:bookworm-slim AS build
RUN apt-get update \
 && apt-get install -y --no-install-recommends cmake g++ make tini \
 && rm -rf /var/lib/apt/lists/*
WORKDIR /src
COPY CMakeLists.txt ./
COPY src/ src/
COPY man/ man/
RUN cmake -S . -B build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release \
 && cmake --build build \
 && install -D -s build/cpuspend /rootfs/usr/bin/cpuspend \
 && install -D /usr/bin/tini /rootfs/usr/bin/tini \
 && for lib in $({ ldd build/cpuspend; ldd /usr/bin/tini; } \
        | awk '$2 == "=>" { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do \
      install -D "$(readlink -f "$lib")" "/rootfs$lib"; \
    done

FROM scratch
COPY --from=build /rootfs/ /
USER 65534:65534
LABEL org.opencontainers.image.title="cpuspend" \
      org.opencontainers.image.description="CPU load that stops after a set amount of its own processor time" \
      org.opencontainers.image.version="1.0.0" \
      org.opencontainers.image.licenses="ISC"
ENTRYPOINT ["/usr/bin/tini", "--", "/usr/bin/cpuspend"]
