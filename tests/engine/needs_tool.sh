# Sourced by a test script: `needs_tool NAME...` ends the test with 77, which ctest
# reports as skipped, when one of the commands is not installed.
needs_tool() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool not found: skipped"; exit 77; }
  done
}
