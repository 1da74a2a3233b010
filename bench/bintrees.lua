local function make_tree(depth)
  if depth == 0 then return {} end
  depth = depth - 1
  return {make_tree(depth), make_tree(depth)}
end

local function check(tree)
  if tree[1] == nil then return 1 end
  return 1 + check(tree[1]) + check(tree[2])
end

local max_depth = 14
local out = {"stretch " .. check(make_tree(max_depth + 1))}
local long_lived = make_tree(max_depth)
for depth = 4, max_depth, 2 do
  local iterations = 2 ^ (max_depth - depth + 4) // 1
  local total = 0
  for _ = 1, iterations do total = total + check(make_tree(depth)) end
  out[#out + 1] = string.format("%d %d %d", iterations, depth, total)
end
out[#out + 1] = "long-lived " .. check(long_lived)
print(table.concat(out, " "))
