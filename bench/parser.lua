local modulus = 46337
local seed = 42

local function next_random()
  seed = (seed * 75 + 74) % 65537
  return seed
end

local parts = {}
local function gen(depth)
  local r = next_random()
  if depth == 0 or r % 4 == 0 then
    local d = r % 9 + 1
    parts[#parts + 1] = string.sub("123456789", d, d)
  else
    parts[#parts + 1] = "("
    gen(depth - 1)
    local o = r % 2 + 1
    parts[#parts + 1] = string.sub("+*", o, o)
    gen(depth - 1)
    parts[#parts + 1] = ")"
  end
end

for i = 1, 3000 do
  if i > 1 then parts[#parts + 1] = "+" end
  gen(10)
end
local src = table.concat(parts)
local pos = 1
local parse_sum

local function parse_factor()
  local c = string.byte(src, pos)
  pos = pos + 1
  if c == 40 then
    local v = parse_sum()
    pos = pos + 1
    return v
  end
  return c - 48
end

local function parse_product()
  local v = parse_factor()
  while string.byte(src, pos) == 42 do
    pos = pos + 1
    v = (v * parse_factor()) % modulus
  end
  return v
end

parse_sum = function()
  local v = parse_product()
  while string.byte(src, pos) == 43 do
    pos = pos + 1
    v = (v + parse_product()) % modulus
  end
  return v
end

print(#src .. " " .. parse_sum())
