def make_tree(depth):
    if depth == 0:
        # Built at run time: the literal (None, None) would be one constant
        # shared by every leaf, where the Kel and Lua twins make each leaf.
        leaf = None
        return (leaf, leaf)
    depth -= 1
    return (make_tree(depth), make_tree(depth))


def check(tree):
    left, right = tree
    if left is None:
        return 1
    return 1 + check(left) + check(right)


max_depth = 14
out = ["stretch %d" % check(make_tree(max_depth + 1))]
long_lived = make_tree(max_depth)
for depth in range(4, max_depth + 1, 2):
    iterations = 2 ** (max_depth - depth + 4)
    total = 0
    for _ in range(iterations):
        total += check(make_tree(depth))
    out.append("%d %d %d" % (iterations, depth, total))
out.append("long-lived %d" % check(long_lived))
print(" ".join(out))
