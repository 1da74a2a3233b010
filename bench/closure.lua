local function make_adder(n)
  return function(x) return x + n end
end

local total = 0
for i = 1, 2000 do
  local add_i = make_adder(i)
  for _ = 1, 500 do
    total = add_i(total % 1000003)
  end
end
print(total)
