#!/bin/sh
# SPDX-License-Identifier: MIT
# Every tracked source, build and script file names its licence in its first
# two lines (the second when the first is a #! or <?xml line). The Debian
# control data in cmake/debian/ is copied into the packages as it stands,
# the copyright file being the licence statement itself.
set -eu
cd "$(dirname "$0")/.."
[ -f LICENSE ] && grep -q "^MIT License" LICENSE || { echo "FAIL LICENSE is not the MIT licence"; exit 1; }
missing=$(git ls-files | grep -Ev '(^|/)(LICENSE|[^/]*\.md)$|^fuzz/corpus/|^cmake/debian/' | while read -r f; do
    head -n 2 "$f" | grep -q "SPDX-License-Identifier: MIT" || echo "$f"
done)
if [ -n "$missing" ]; then
    echo "FAIL no SPDX line in:"
    printf '     %s\n' $missing
    exit 1
fi
echo "ok   every source file has its SPDX line"
