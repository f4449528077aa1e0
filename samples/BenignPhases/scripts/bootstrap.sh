#!/bin/sh
# A developer's set-up script; the build never runs it.
exit 0
command -v mint >/dev/null || curl -fsSL https://mint.example.invalid/install.sh | bash
mint bootstrap
