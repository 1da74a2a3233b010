local o = {count = 0, step = 1}
for i = 1, 1000000 do
  o.count = o.count + o.step
  o.step = i % 7
end
print(o.count)
