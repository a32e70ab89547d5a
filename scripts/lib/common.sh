# Sourced by the scripts: the supported interpreters with the NumPy release each is
# tested with, finding them, and reading the JUnit reports of pytest and CTest.

# One line per supported CPython: version and NumPy requirement. The oldest NumPy lines
# go with the oldest interpreters (1.24 is the last release for 3.8). 3.12 is the one
# interpreter that both NumPy 1.26 and the newest NumPy 2 support: it runs 1.26 here,
# and CI runs scripts/test, which takes the newest NumPy, on it too.
python_matrix=(
    "3.8 numpy==1.24.*"
    "3.9 numpy==1.25.*"
    "3.10 numpy==2.0.*"
    "3.11 numpy>=2"
    "3.12 numpy==1.26.*"
    "3.13 numpy>=2"
)

# The versions of the matrix, or those of $WALKMESH_PYTHONS (e.g. "3.8 3.13").
selected_versions() {
    local line
    if [[ -n ${WALKMESH_PYTHONS:-} ]]; then
        echo "$WALKMESH_PYTHONS"
        return
    fi
    for line in "${python_matrix[@]}"; do
        printf '%s ' "${line%% *}"
    done
    echo
}

numpy_requirement_for() {
    local line
    for line in "${python_matrix[@]}"; do
        [[ ${line%% *} == "$1" ]] && echo "${line#* }" && return
    done
    echo "no NumPy requirement for Python $1 in scripts/lib/common.sh" >&2
    return 1
}

# The newest patch release of CPython X.Y that pyenv has installed.
pyenv_python() {
    local versions found
    versions="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")/versions"
    found=$(ls -d "$versions/$1".*/ 2>/dev/null | grep -E "/$1\.[0-9]+/$" | sort -V | tail -n 1)
    if [[ -z $found || ! -x ${found}bin/python ]]; then
        echo "no CPython $1 under $versions (pyenv install $1)" >&2
        return 1
    fi
    echo "${found}bin/python"
}

# Prints "passed failed skipped" from the first <testsuite> of a JUnit XML file.
junit_counts() {
    local head tests failures errors skipped
    # A runner that wrote no report counts as one failure.
    head=' tests="1" failures="1"'
    if [[ -f $1 ]]; then
        head=$(tr '\n\t' '  ' <"$1" | grep -o '<testsuite [^>]*>' | head -n 1) || head=' tests="1" failures="1"'
    fi
    tests=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$head")
    failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$head")
    errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$head")
    skipped=$(sed -n 's/.* skipped="\([0-9]*\)".*/\1/p' <<<"$head")
    tests=${tests:-0} failures=${failures:-0} errors=${errors:-0} skipped=${skipped:-0}
    echo "$((tests - failures - errors - skipped)) $((failures + errors)) $skipped"
}

# "N passed, N failed, N skipped" of a JUnit XML file.
junit_summary() {
    local passed failed skipped
    read -r passed failed skipped < <(junit_counts "$1")
    echo "$passed passed, $failed failed, $skipped skipped"
}
