local total = 0
for i = 1, 1000000 do
  local b = {}
  b[#b + 1] = i
  b[#b + 1] = i + 1
  total = total + #b
end
print(total)
