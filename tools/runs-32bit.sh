#!/usr/bin/env bash
# Exits 0 when this kernel runs 32-bit x86 Linux programs, 1 when it cannot
# (a kernel without IA-32 emulation: "Exec format error"). It runs the 32-bit
# dynamic loader (Debian's libc6-i386, which g++-multilib brings, or libc6:i386),
# itself a 32-bit program, so the answer needs no build.
{ [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version; } >/dev/null 2>&1 || exit 1
