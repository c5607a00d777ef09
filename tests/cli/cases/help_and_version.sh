# --help and --version answer on stdout and succeed; each command has its own help.
velkpatch --help
echo "exit=$?"
velkpatch --version
echo "exit=$?"
velkpatch apply --help
echo "exit=$?"
velkpatch recover --help
echo "exit=$?"
velkpatch undo --help
echo "exit=$?"
# The short forms, as --help lists them.
velkpatch -V
echo "exit=$?"
velkpatch create -h | head -1
